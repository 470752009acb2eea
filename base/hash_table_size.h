// How many buckets a hash table gets for an expected number of entries: the
// smallest prime not below 1.2 times the count, plus one. Lists read from
// the upstream service (the agent list, the proxy cache's directories) are
// sized by this rule before they are filled.
#pragma once

#include <cstddef>

std::size_t HashTableSize(std::size_t entries);
