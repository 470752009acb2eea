// Result codes of the pool operations. 0 is success; no text is attached to
// the others, callers compare the numbers.
#pragma once

namespace poolmgr {

inline constexpr int kPoolOk = 0;
// Pool not open or no factory; also IncreaseDepthBy with a count that is not positive.
inline constexpr int kPoolNotOpen = 8195;
inline constexpr int kPoolAlreadyOpen = 8196;
// Every slot up to the depth is reserved, working, or held by a thread that
// has ended or expired but not yet finished.
inline constexpr int kPoolFull = 8197;
// The pool mutex could not be taken within kPoolMutexWaitMs.
inline constexpr int kPoolMutexTimeout = 8198;
// No free slot although the table is shorter than the depth.
inline constexpr int kPoolNoSlotFound = 8199;
inline constexpr int kPoolSlotAllocationFailed = 8200;
inline constexpr int kPoolNoThreadObject = 8202;
inline constexpr int kPoolNoFactory = 8203;
inline constexpr int kPoolDepthNotGreater = 8204;
// Cleaner not running, could not be started, or did not stop in time.
inline constexpr int kPoolCleanerNotRunning = 8205;
inline constexpr int kPoolCleanerRunning = 8206;
inline constexpr int kPoolCleanerIntervalZero = 8207;
// Thread start failed, or the slot was not reserved.
inline constexpr int kPoolThreadStartFailed = 8449;
// The thread did not end in time; it was given up on (left to finish alone).
inline constexpr int kPoolThreadTerminated = 8451;

}  // namespace poolmgr
