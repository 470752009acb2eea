#include "txlog/log_analysis.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "base/json_text.h"
#include "base/text_scan.h"

namespace {

constexpr std::string_view kFieldsLine = "#Fields:";
constexpr std::string_view kOther = "other";
// A field longer than this is no date, status or number of ours.
constexpr std::size_t kMaxKeyLength = 32;
// Times above this (in tenths of a millisecond: 1,000 s) count as this.
constexpr std::uint32_t kMaxTenths = 10'000'000;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "YYYY-MM-DD" and "HH:MM:SS" as the log writes them.
bool IsDate(std::string_view text) {
  return text.size() == 10 && AllDigits(text.substr(0, 4)) && text[4] == '-' && AllDigits(text.substr(5, 2)) &&
         text[7] == '-' && AllDigits(text.substr(8, 2));
}
bool IsTime(std::string_view text) {
  return text.size() == 8 && AllDigits(text.substr(0, 2)) && text[2] == ':' && AllDigits(text.substr(3, 2)) &&
         text[5] == ':' && AllDigits(text.substr(6, 2));
}

std::uint64_t Number(std::string_view text) {
  if (!AllDigits(text) || text.size() > 19) return 0;
  std::uint64_t value = 0;
  for (char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return value;
}

// "%5.4f" seconds in tenths of a millisecond; nothing for "-" or junk.
std::optional<std::uint32_t> Tenths(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (!AllDigits(whole) || (dot != std::string_view::npos && !AllDigits(fraction))) return std::nullopt;
  if (whole.size() > 7) return kMaxTenths;
  std::uint64_t tenths = Number(whole) * 10000;
  fraction = fraction.substr(0, 4);
  std::uint64_t scale = 1000;
  for (char c : fraction) {
    tenths += static_cast<std::uint64_t>(c - '0') * scale;
    scale /= 10;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(tenths, kMaxTenths));
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", seconds);
  return text;
}

}  // namespace

std::optional<std::string> CLogAnalysis::ParseBound(std::string_view text) {
  if (text.empty()) return std::string();
  if (text.size() != 16 && text.size() != 19) return std::nullopt;
  std::string bound(text);
  if (bound[10] == 'T') bound[10] = ' ';
  if (bound.size() == 16) bound += ":00";
  if (!IsDate(std::string_view(bound).substr(0, 10)) || bound[10] != ' ' || !IsTime(std::string_view(bound).substr(11))) {
    return std::nullopt;
  }
  return bound;
}

CLogAnalysis::CLogAnalysis(std::string from, std::string to) : m_From(std::move(from)), m_To(std::move(to)) {}

void CLogAnalysis::AddText(std::string_view text) {
  // Until a file names its fields, its lines cannot be read.
  Columns columns;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.substr(0, kFieldsLine.size()) == kFieldsLine) {
      columns = Columns();
      const std::vector<std::string_view> names = net::SplitWords(line.substr(kFieldsLine.size()));
      columns.count = static_cast<int>(names.size());
      for (int i = 0; i < columns.count; ++i) {
        const std::string_view name = names[static_cast<std::size_t>(i)];
        if (name == "date") columns.date = i;
        if (name == "time") columns.time = i;
        if (name == "cs-uri") columns.uri = i;
        if (name == "sc-status") columns.status = i;
        if (name == "bytes") columns.bytes = i;
        if (name == "time-taken") columns.timeTaken = i;
        if (name == "x-agent") columns.agent = i;
      }
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    AddLine(line, columns);
  }
}

void CLogAnalysis::AddLine(std::string_view line, const Columns& columns) {
  if (columns.date < 0 || columns.time < 0) return;
  // The client address is padded with blanks: runs of blanks separate one
  // field.
  const std::vector<std::string_view> fields = net::SplitWords(line);
  if (static_cast<int>(fields.size()) != columns.count) return;
  const auto field = [&](int index) { return index < 0 ? std::string_view("-") : fields[static_cast<std::size_t>(index)]; };
  const std::string_view date = field(columns.date);
  const std::string_view time = field(columns.time);
  if (!IsDate(date) || !IsTime(time)) return;
  std::string stamp;
  stamp.reserve(19);
  stamp.append(date).append(" ").append(time);
  if (!m_From.empty() && stamp < m_From) return;
  if (!m_To.empty() && stamp >= m_To) return;

  const std::uint64_t bytes = Number(field(columns.bytes));
  ++m_Requests;
  m_Bytes += bytes;
  Count(m_ByAgent, field(columns.agent), bytes, kMaxKeys);
  Count(m_ByStatus, field(columns.status), bytes, kMaxKeys);
  Count(m_ByCategory, CategoryOfUri(field(columns.uri)), bytes, kMaxCategoryKeys);
  if (const std::optional<std::uint32_t> tenths = Tenths(field(columns.timeTaken))) ++m_TimeTaken[*tenths];
  const std::string minute = stamp.substr(0, 16);
  auto at = m_PerMinute.find(minute);
  if (at != m_PerMinute.end()) {
    ++at->second;
  } else if (m_PerMinute.size() < kMaxMinutes) {
    m_PerMinute.emplace(minute, 1);
  } else {
    m_Truncated = true;
  }
}

void CLogAnalysis::Count(std::map<std::string, Tally>& tallies, std::string_view key, std::uint64_t bytes,
                         std::size_t maxKeys) {
  if (key.size() > kMaxKeyLength) key = kOther;
  auto at = tallies.find(std::string(key));
  if (at == tallies.end()) {
    if (tallies.size() >= maxKeys) key = kOther;
    at = tallies.try_emplace(std::string(key)).first;
  }
  ++at->second.requests;
  at->second.bytes += bytes;
}

std::string CLogAnalysis::TalliesJson(const std::map<std::string, Tally>& tallies, std::size_t top) {
  // The keys beyond the bounds and below the top rows count as one "other"
  // row, listed last.
  Tally rest;
  std::vector<std::pair<std::string, Tally>> rows;
  for (const auto& [key, tally] : tallies) {
    if (key == kOther) {
      rest = tally;
    } else {
      rows.emplace_back(key, tally);
    }
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.second.requests > b.second.requests; });
  for (std::size_t i = top; i < rows.size(); ++i) {
    rest.requests += rows[i].second.requests;
    rest.bytes += rows[i].second.bytes;
  }
  if (rows.size() > top) rows.resize(top);
  if (rest.requests > 0) rows.emplace_back(std::string(kOther), rest);
  std::string out = "[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out += (i == 0 ? "{\"key\":" : ",{\"key\":") + json::JsonQuote(rows[i].first) +
           ",\"requests\":" + std::to_string(rows[i].second.requests) +
           ",\"bytes\":" + std::to_string(rows[i].second.bytes) + "}";
  }
  return out + "]";
}

double CLogAnalysis::Percentile(double share) const {
  std::uint64_t total = 0;
  for (const auto& [tenths, count] : m_TimeTaken) total += count;
  if (total == 0) return 0;
  // The smallest time that at least `share` of the requests did not exceed.
  const auto wanted = static_cast<std::uint64_t>(std::max(1.0, share * static_cast<double>(total) + 0.999999));
  std::uint64_t seen = 0;
  for (const auto& [tenths, count] : m_TimeTaken) {
    seen += count;
    if (seen >= wanted) return tenths / 10000.0;
  }
  return m_TimeTaken.rbegin()->first / 10000.0;
}

std::string CLogAnalysis::Json() const {
  std::string out = "{\"from\":" + json::JsonQuote(m_From) + ",\"to\":" + json::JsonQuote(m_To) +
                    ",\"requests\":" + std::to_string(m_Requests) + ",\"bytes\":" + std::to_string(m_Bytes) +
                    ",\"byAgent\":" + TalliesJson(m_ByAgent, kMaxKeys) +
                    ",\"byStatus\":" + TalliesJson(m_ByStatus, kMaxKeys) +
                    ",\"byCategory\":" + TalliesJson(m_ByCategory, kTopCategories) + ",\"timeTaken\":{";
  const double max = m_TimeTaken.empty() ? 0 : m_TimeTaken.rbegin()->first / 10000.0;
  out += "\"p50\":" + Seconds(Percentile(0.5)) + ",\"p90\":" + Seconds(Percentile(0.9)) +
         ",\"p99\":" + Seconds(Percentile(0.99)) + ",\"max\":" + Seconds(max) + "},\"perMinute\":[";
  bool first = true;
  for (const auto& [minute, requests] : m_PerMinute) {
    out += (first ? "{\"minute\":" : ",{\"minute\":") + json::JsonQuote(minute) +
           ",\"requests\":" + std::to_string(requests) + "}";
    first = false;
  }
  return out + "],\"truncated\":" + (m_Truncated ? "true" : "false") + "}";
}

std::string CategoryOfUri(std::string_view uri) {
  constexpr std::string_view kViewerPrefix = "/KIBO-1/";
  const std::size_t prefix = uri.find(kViewerPrefix);
  if (prefix == std::string_view::npos) return "-";
  uri = uri.substr(0, uri.find('?'));
  const std::string_view last = uri.substr(uri.rfind('/') + 1);
  const std::string_view number = last.substr(0, last.find('-'));
  if (!AllDigits(number) || number.size() > 10) return "-";
  return std::string(number);
}
