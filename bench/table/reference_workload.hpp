#pragma once
// The workload an independent xBase engine was measured on, run through our table
// engine beside physical baselines taken in the same run.
#include <cstdint>
#include <filesystem>
#include <string>

namespace vz::bench {

// Runs the workload over `records` records in `dir` (emptied first) and prints every
// phase with its baseline ratio, the reference figure and the target. Returns 0, or 1
// when a phase gives a wrong result.
int RunReferenceWorkload(std::uint32_t records, const std::filesystem::path& dir);

// 10,000 durable shared appends to a phone book of `records` records, ours and the
// independent engine's (its whole benchmark, whose last phase is the same work with
// two device syncs an append), taken in turns for `rounds` rounds; prints each round,
// the medians and their ratio. Ours alone when the independent engine is not there.
// Opens the table shared, order NAME, filter .not. deleted(), walks and counts; prints
// the count, the seconds and the process's peak memory (getrusage), so that the walk's
// memory is measured in a process that does nothing else.
int RunWalkOnly(const std::string& path);

int RunDurableTurns(std::uint32_t records, const std::filesystem::path& dir, int rounds);

}  // namespace vz::bench
