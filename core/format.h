#pragma once
// Text forms of numbers, path URLs and clip names for logs and documents.

#include <string>

// General notation, 6 significant digits, classic locale ("25", "29.97", "1e+06").
std::string float2string(float value);

// A frame-rate text ("29.970", "999") as a number, read with a full stop whatever the
// process locale says; text that is not a number reads as 0.
float framerate_number(const std::string& text);

// "file://localhost/" + the path with the fourteen URL escapes (backslash read as "/").
std::string urito(std::string path);

// Everything after the last "/".
std::string correctxmlname(std::string path);

// "&", "<" and ">" as entities, every other byte unchanged: for element text.
std::string xml_escape(const std::string& text);
