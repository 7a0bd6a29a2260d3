#pragma once
// emotion.cfg, in the working directory: the four emotion levels and the
// minimum object size, kept from one run to the next.
//
// Format: five numbers separated by white space, in this order:
//   happyLevel sadLevel angerLevel surpriseLevel minObjectSize
// The levels are decimal floating-point numbers, the size an unsigned
// decimal integer. Written as "0.2 0.5 0.5 0.5 100" and a line end (six
// significant digits, C locale whatever the program's locale).
//
// Reading stops at the first field that is missing or does not parse; that
// field and the ones after it keep their values. A field that parses partly
// takes its leading part ("100.7" as the size gives 100). Only the first
// 64 KiB of the file are looked at, so a huge or endless file cannot stall
// the start. A size with a minus sign or above 4294967295 counts as a field
// that does not parse. Only a regular file is read or written.

#include <cstddef>

inline constexpr const char* configFileName = "emotion.cfg";
inline constexpr std::size_t configReadLimit = 64 * 1024;

// Sets the load-time settings (model parameters, draw switches, emotions on,
// minimum object size 100), reads emotion.cfg if there is one, rebuilds the
// model grid and clears reinitialiseRequested. Silent when the file is
// missing or unreadable.
void loadSettings();

// Writes the four levels and the minimum object size to emotion.cfg. Silent
// when the file cannot be written; an existing file then stays as it was.
void saveSettings();

// Reads "<label> <minObjectSize>" from emotion.cfg (the label a word of at
// most 99 characters) and takes the size. Shows "Cant find config file
// (emotion.cfg)" when there is no file; changes nothing when the label is
// longer or the size does not parse.
void reloadSettings();
