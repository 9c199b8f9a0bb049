#pragma once
#include <string>
#include <vector>

// Texts of the message boxes shown since the program started.
extern std::vector<std::string> CapturedBoxes;
