// CLogAnalysis: what the transaction log says about a time range: requests
// and bytes per agent kind, per status and per category, the percentiles
// of the time taken, and the requests of each minute. Log files are added
// one text at a time; each file's "#Fields:" line names its columns, so
// files written with another field list are read correctly or skipped.
//
// Memory is bounded whatever the logs hold: the tallies keep at most a
// fixed number of distinct keys (the rest count under "other"), the time
// taken is kept as a histogram of its 0.1 ms steps, and the minute series
// stops growing at kMaxMinutes (the answer then says it was cut).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class CLogAnalysis {
 public:
  static constexpr std::size_t kMaxKeys = 1000;
  static constexpr std::size_t kMaxCategoryKeys = 10000;
  static constexpr std::size_t kMaxMinutes = 10080;  // a week
  static constexpr std::size_t kTopCategories = 50;

  // A range bound as the console sends it: "YYYY-MM-DD HH:MM[:SS]" (or with
  // a "T" between date and time); empty for an open end. Nothing when the
  // text is not such a time.
  static std::optional<std::string> ParseBound(std::string_view text);

  // Lines from `from` (inclusive) to `to` (exclusive), both in the form
  // ParseBound gives; empty bounds are open.
  CLogAnalysis(std::string from, std::string to);

  // Adds the entries of one log file's text.
  void AddText(std::string_view text);
  // Marks the answer as covering part of the logs only.
  void MarkTruncated() { m_Truncated = true; }

  // The analysis as a JSON object.
  std::string Json() const;

  std::uint64_t Requests() const { return m_Requests; }

 private:
  struct Tally {
    std::uint64_t requests = 0;
    std::uint64_t bytes = 0;
  };
  struct Columns {
    int date = -1, time = -1, uri = -1, status = -1, bytes = -1, timeTaken = -1, agent = -1;
    int count = 0;
  };

  void AddLine(std::string_view line, const Columns& columns);
  static void Count(std::map<std::string, Tally>& tallies, std::string_view key, std::uint64_t bytes,
                    std::size_t maxKeys);
  static std::string TalliesJson(const std::map<std::string, Tally>& tallies, std::size_t top);
  // The time taken at the fraction `share` of the requests, in seconds.
  double Percentile(double share) const;

  std::string m_From;
  std::string m_To;
  std::uint64_t m_Requests = 0;
  std::uint64_t m_Bytes = 0;
  std::map<std::string, Tally> m_ByAgent;
  std::map<std::string, Tally> m_ByStatus;
  std::map<std::string, Tally> m_ByCategory;
  std::map<std::uint32_t, std::uint64_t> m_TimeTaken;  // tenths of a millisecond -> requests
  std::map<std::string, std::uint64_t> m_PerMinute;    // "YYYY-MM-DD HH:MM" -> requests
  bool m_Truncated = false;
};

// The category number of a viewer request's URI ("/KIBO-1/.../67328-1?x"
// gives "67328"); "-" for any other URI.
std::string CategoryOfUri(std::string_view uri);
