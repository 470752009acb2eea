#include "domino/chanadmin.h"

#include <filesystem>
#include <system_error>

#include "domino/channel_file.h"
#include "platform/registry.h"
#include "regwrap/qr_registry.h"

namespace domino {

namespace {

constexpr std::size_t kMaxAnimations = 1000;
constexpr const char* kProgramName = "chanadmin.exe";
constexpr const char* kLinksProgram = "linkview.exe";
constexpr const char* kSaveButton = " Save Changes to Domino Server ";

std::string ConfigValue(QRRegistry& key, const char* name) {
  std::string value;
  if (!key.GetValue(name, &value)) return "";
  const std::size_t end = value.find('\0');
  if (end != std::string::npos) value.resize(end);
  return value.substr(0, kConfigBytes);
}

// A URL part for a Location line: control characters left out, so that
// nothing can end the header line early.
std::string HeaderText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7F) out += static_cast<char>(c);
  }
  return out;
}

// The answer that sends the browser to http://<server>/<alias>/<file>: a
// Location line in the CGI header, with a 302 status where the header
// carries a status.
std::string Redirect(const CgiRequest& request, const ChanadminConfig& config, const std::string& alias,
                     const std::string& file) {
  std::string answer;
  if (CgiHeaderHasStatus(request)) answer += "Status: 302 Found\n";
  answer += "Location: http://" + HeaderText(config.server_name) + "/" + HeaderText(alias) + "/" + HeaderText(file) +
            "\n\n";
  return answer;
}

std::string IconUrl(const ChanadminConfig& config, const char* file) {
  return HtmlText("http://" + config.server_name + "/" + config.icons_alias + "/" + file);
}

bool MatchesAnimation(const std::string& name) {
  if (name.size() < 4) return false;
  return SameText(name.substr(name.size() - 4), ".anm");
}

std::string AnimationChoice(const ChannelSettings* settings, const std::vector<std::string>& animations) {
  if (animations.empty()) {
    return "<INPUT TYPE=\"text\" NAME=\"dvAnimationFileName\" SIZE=99 VALUE=\"" +
           (settings != nullptr ? HtmlText(settings->dv_file) : std::string()) + "\">\n";
  }
  std::string choice = "<SELECT NAME=\"dvAnimationFileName\">\n";
  bool matched = false;
  for (std::size_t i = 0; i < animations.size(); ++i) {
    const std::string name = HtmlText(animations[i]);
    const bool first = i == 0;
    if (settings == nullptr) {
      choice += (first ? "<OPTION 3> " : "<OPTION 6> ") + name + "\n";
    } else if (SameText(animations[i], settings->dv_file)) {
      matched = true;
      choice += (first ? "<OPTION SELECTED 1> " : "<OPTION SELECTED 4> ") + name + "\n";
    } else {
      choice += (first ? "<OPTION 2> " : "<OPTION 5> ") + name + "\n";
    }
  }
  if (settings != nullptr && !matched) choice += "<OPTION SELECTED 7> " + HtmlText(settings->dv_file) + "\n";
  return choice + "</SELECT>\n";
}

std::string ErrorPage() { return "<HTML>\n<BODY>\nERROR - Unknown request method.\n</BODY>\n</HTML>\n"; }

}  // namespace

ChanadminConfig ReadChanadminConfig() {
  ChanadminConfig config;
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), kChanadminKey, nullptr);
  config.html_directory = ConfigValue(key, "DominoHTML");
  config.html_alias = ConfigValue(key, "DominoHTMLAlias");
  config.icons_alias = ConfigValue(key, "DominoICONSAlias");
  config.cgi_alias = ConfigValue(key, "DominoCGIBINAlias");
  return config;
}

std::vector<std::string> AnimationFiles() {
  std::vector<std::string> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (MatchesAnimation(name) && it->is_regular_file(error)) files.push_back(name);
    if (files.size() >= kMaxAnimations) break;
  }
  return files;
}

std::string ChannelForm(const CgiRequest& request, const ChanadminConfig& config, const ChannelSettings* settings,
                        const std::vector<std::string>& animations) {
  std::string page = CgiHeader(request, "text/html");
  page +=
      "<!--\n"
      "Orrinvale Zondrel Administration for Dazave.ZevodArud, build 1.1K\n"
      "-->\n"
      "<HTML>\n"
      "<BODY>\n"
      "<TITLE>Domino Channel Administration</TITLE>\n"
      "<SCRIPT LANGUAGE=\"JavaScript\">\n"
      "<!--\n"
      "var buttonClicked = \"\";\n"
      "function setButtonClicked(inputString) {\n"
      "  buttonClicked = inputString;\n"
      "}\n"
      "function verifyInput() {\n"
      "  if (buttonClicked != \" Save Changes to Domino Server \") return true;\n"
      "  var form = document.channelForm;\n"
      "  var name = form.channelName.value;\n"
      "  if (name.length < 1 || name.length > 12) {\n"
      "    alert(\"You must enter a channel name that is 12 characters or fewer.\");\n"
      "    return false;\n"
      "  }\n"
      "  var dvLogo = form.dvLogoFileName.value;\n"
      "  if (dvLogo.indexOf(\".gif\") < 0 || dvLogo.length <= 4) {\n"
      "    alert(\"You must enter a Dozeview logo file name in the format \\\"filename.gif\\\"\");\n"
      "    return false;\n"
      "  }\n"
      "  var adLogo = form.adLogoFileName.value;\n"
      "  if (adLogo.indexOf(\".gif\") < 0 || adLogo.length <= 4) {\n"
      "    alert(\"You must enter a Ad Logo file name in the format \\\"filename.gif\\\"\");\n"
      "    return false;\n"
      "  }\n"
      "  alert(\"\\nYour Domino Channel has been updated.\");\n"
      "  return true;\n"
      "}\n"
      "// -->\n"
      "</SCRIPT>\n";
  page += std::string("<FORM NAME=\"channelForm\" METHOD=GET ACTION=") + kProgramName +
          " onSubmit=\"return verifyInput()\">\n";
  page += "<IMG SRC=\"" + IconUrl(config, "notesba1.gif") + "\" BORDER=0><BR>\n";
  page += "<IMG SRC=\"" + IconUrl(config, "notes1a.gif") + "\" BORDER=0>";
  page += "<INPUT TYPE=\"image\" NAME=\"InputString\" VALUE=\"DatabaseLinksTab\" SRC=\"" +
          IconUrl(config, "notes1b.gif") + "\" BORDER=0><BR>\n";
  page += std::string("<P><INPUT TYPE=\"submit\" NAME=\"InputString\" VALUE=\"") + kSaveButton +
          "\" onClick=\"setButtonClicked(this.value)\">\n";
  page += "<INPUT TYPE=\"reset\" VALUE=\"Reset\">\n";
  page += "<TABLE>\n";
  page += "<TR><TD>Channel Name:</TD><TD><INPUT TYPE=\"text\" NAME=\"channelName\" SIZE=30 VALUE=\"" +
          HtmlText(settings != nullptr ? settings->name : "The Domino Channel") + "\"></TD></TR>\n";
  page += "<TR><TD>Dozeview Logo:</TD><TD><INPUT TYPE=\"text\" NAME=\"dvLogoFileName\" SIZE=30 VALUE=\"" +
          (settings != nullptr ? HtmlText(settings->dv_logo) : std::string()) + "\"></TD></TR>\n";
  page += "<TR><TD>Ad Logo:</TD><TD><INPUT TYPE=\"text\" NAME=\"adLogoFileName\" SIZE=30 VALUE=\"" +
          (settings != nullptr ? HtmlText(settings->ad_logo) : std::string()) + "\"></TD></TR>\n";
  page += "<TR><TD>Dozeview File: </TD><TD>\n" + AnimationChoice(settings, animations) + "</TD></TR>\n";
  page += "</TABLE>\n";
  page += "<INPUT TYPE=\"submit\" NAME=\"InputString\" VALUE=\"Preview\" onClick=\"setButtonClicked(this.value)\">\n";
  page += "</FORM>\n";
  page += "<IMG SRC=\"" + IconUrl(config, "noteslin.gif") + "\" BORDER=0>\n";
  page += "</BODY>\n</HTML>\n";
  return page;
}

int RunChanadmin(const CgiRequest& request, const ChanadminConfig& registry_config,
                 const std::vector<std::string>& animations, std::ostream& out) {
  ChanadminConfig config = registry_config;
  config.server_name = request.Get("SERVER_NAME", kConfigBytes).value_or("");
  const auto method = request.Get("REQUEST_METHOD", 32);
  if (!method) {
    out << ErrorPage();
    return 0;
  }
  std::string input;
  std::string input_note;  // the text of a body that is not a form
  if (SameText(*method, "POST")) {
    input = ReadRequestBody(request, kInputBytes);
    std::string type = request.Get("CONTENT_TYPE", 256).value_or("");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    if (!SameText(type, "application/x-www-form-urlencoded")) input_note = "Input = " + input + "\n";
  } else if (SameText(*method, "GET")) {
    input = request.Get("QUERY_STRING", kInputBytes).value_or("");
  }
  const std::string dat_path = config.html_directory + "domino.dat";
  FormAction action = ChooseAction(input);
  std::string preview;
  if (action == FormAction::kPreview) {
    preview = PreviewFileName(input);
    if (preview.empty()) action = FormAction::kShow;  // no animation named: nothing to preview
  }
  switch (action) {
    case FormAction::kDatabaseLinks:
      out << Redirect(request, config, config.cgi_alias, kLinksProgram) << input_note;
      return 0;
    case FormAction::kPreview:
      out << Redirect(request, config, config.icons_alias, preview) << input_note;
      return 0;
    case FormAction::kShow:
    case FormAction::kSave: {
      const ChannelSettings settings =
          action == FormAction::kSave ? SettingsFromInput(input) : ReadChannelSettings(dat_path);
      // When the file cannot be replaced it stays as it was; the form is
      // written all the same.
      RewriteChannelFile(dat_path, settings);
      std::string page = ChannelForm(request, config, &settings, animations);
      if (!input_note.empty()) {
        const std::size_t body = page.find("\n\n") + 2;
        page.insert(body, input_note);
      }
      out << page;
      return 0;
    }
  }
  return 0;
}

}  // namespace domino
