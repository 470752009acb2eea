// What the simulated data centre serves: items per category (generated, or
// files on disk), the data-stream body they make, and the agent list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/dcsim/dcsim_options.h"

namespace dcsim {

// The agent list's own address: category 67328, item 1.
constexpr std::int32_t kAgentListCategory = 67328;
constexpr std::int32_t kAgentListItem = 1;

struct Item {
  std::uint32_t id = 0;
  std::string data;
};

// The items of `category` (and its `argument` directory, when it has one)
// with ids above `afterItem`: the newest `limit` of them (0: all), oldest
// first, together at most kMaxAnswerBytes.
std::vector<Item> SelectItems(const Options& options, std::int32_t category, const std::string& argument,
                              std::int32_t afterItem, std::uint32_t limit);

// The body of a data-stream answer: the next-update line, then each item's
// data-stream header and bytes.
std::string DataStreamBody(const std::vector<Item>& items, std::uint32_t nextUpdate);

// The body of the agent list answer: a count line and "category,value"
// lines, from `agentsFile` or the built-in list. False with `error` when
// the file cannot be used.
bool AgentListBody(const std::string& agentsFile, std::string& body, std::string& error);

}  // namespace dcsim
