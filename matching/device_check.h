#pragma once
// The sound's check of the devices found from the files: one device records one file at a
// time (the tracks of one take excepted).

#include "core/results.h"

#include <string>
#include <vector>

// Splits every found device whose files the timeline places at the same time, by more than
// a measuring error, into devices that do not, in recording order (each file to the first
// part it fits); the timeline's members take their new devices. Files placed in different
// sync groups, or in none, tell nothing. Returns one sentence per split, naming the two
// files and their overlap.
std::vector<std::string> split_disproved_devices(Timeline& timeline, std::vector<FoundDevice>& devices);
