#pragma once
// Text forms of numbers, path URLs and clip names for logs and documents.

#include <string>

// General notation, 6 significant digits, classic locale ("25", "29.97", "1e+06").
std::string float2string(float value);

// "file://localhost/" + the path with the fourteen URL escapes (backslash read as "/").
std::string urito(std::string path);

// Everything after the last "/".
std::string correctxmlname(std::string path);

// "&", "<" and ">" as entities, every other byte unchanged: for element text.
std::string xml_escape(const std::string& text);
