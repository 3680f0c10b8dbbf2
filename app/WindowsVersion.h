#pragma once
// The Windows release the program runs on.

// Classifies a release by its version numbers: 11 (10.x from build 22000),
// 10, 8 (6.2 and 6.3), 7 (6.0 and 6.1), or -1 for anything else, including
// the zeros of a failed query.
int ClassifyWindowsVersion(unsigned long major, unsigned long minor, unsigned long build) noexcept;

// The true release (not the one the compatibility manifest lets the program
// see), classified as above.
int GetWindowsVersion() noexcept;
