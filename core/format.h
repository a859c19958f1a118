#pragma once
// Text forms of numbers, path URLs and clip names for logs and documents.

#include <string>

// General notation, 6 significant digits, classic locale ("25", "29.97", "1e+06").
std::string float2string(float value);

// A frame-rate text ("29.970", "999") as a number, read with a full stop whatever the
// process locale says; text that is not a number reads as 0.
float framerate_number(const std::string& text);

// "file://localhost/" + the path with the fourteen URL escapes (backslash read as "/").
// Bytes that xml_text would replace are percent-escaped ("%E9", "%01") instead.
std::string urito(std::string path);

// Everything after the last "/".
std::string file_name(const std::string& path);

// The text with each byte lowered as std::tolower lowers it.
std::string lower_case(std::string text);

// file_name, with a console trace of every character of the path and of the name.
std::string correctxmlname(std::string path);

// `value` in fixed notation with `decimals` digits after the point, whatever the process
// locale says.
std::string fixed_text(double value, int decimals);

// 0 where `value` shows as nothing but zeros at `decimals` digits, else `value`: rounding
// a tiny negative would print "-0.00", a sign that says nothing.
double no_negative_zero(double value, int decimals);

// The text with every byte that is not part of valid UTF-8, every C0 control, DEL,
// U+FFFE and U+FFFF replaced by U+FFFD: XML documents cannot hold them.
std::string xml_text(const std::string& text);

// xml_text with "&", "<" and ">" as entities, every other byte unchanged: for element text.
std::string xml_escape(const std::string& text);

// xml_escape with '"' as an entity too: for an attribute value in double quotes.
std::string xml_attribute(const std::string& text);

// The text with C0 and C1 controls, DEL and bytes that are not valid UTF-8 shown as
// "\xNN", so that a file name cannot steer the terminal it is printed on.
std::string console_safe(const std::string& text);
