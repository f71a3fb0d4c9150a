#pragma once

#include <cstdint>
#include <string>

// A byte count as people read it: "512 B", "1.0 MiB", "1.2 GiB" (binary
// units, one decimal).
std::string SizeText(std::int64_t ASize);
