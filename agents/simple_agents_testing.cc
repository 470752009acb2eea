#include "agents/simple_agents_testing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "agents/agent_testing.h"

namespace agent_testing {

std::unique_ptr<QRNHTTP> ParsedText(const std::string& text) {
  auto parser = std::make_unique<QRNHTTP>();
  std::vector<char> buffer(text.begin(), text.end());
  unsigned int length = static_cast<unsigned int>(buffer.size());
  EXPECT_EQ(parser->HTTPprocess(buffer.data(), length), eHTTPComplete) << text;
  return parser;
}

std::vector<std::string> LogFields(CPTransactionLogEntry& entry) {
  entry.Format();
  std::istringstream line(entry.Line());
  std::vector<std::string> fields;
  for (std::string field; line >> field;) fields.push_back(field);
  return fields;
}

Served Serve(CAbstractAgent& agent, const std::string& request, bool viewerGone) {
  Served served;
  std::unique_ptr<QRNHTTP> parser = ParsedText(request);
  ViewerConnection viewer(viewerGone ? 4096 : 0);
  if (viewerGone) {
    viewer.CloseViewer();
  } else {
    viewer.StartReading();
  }
  served.result = agent.HTTPProcess(viewer.Server(), served.bytesSent, parser.get(), &served.entry);
  served.wire = viewer.Finish();
  return served;
}

}  // namespace agent_testing
