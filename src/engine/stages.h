#pragma once

// The stages that the engine reports to a Runner (Runner::report), with what
// they count; the threaded pipeline (parallel/pipeline.h) adds its own
// around them. Progress is told apart by these pointers, so each stage is
// named here once and reported by this name only.

// Lengths mined so far (1 after the single symbols); total 0, unknown until
// a level comes out empty.
inline constexpr const char* kStageMine = "mine";
// Survivors of the length filter examined by the redundancy filter, of all of them.
inline constexpr const char* kStageFilter = "filter";
