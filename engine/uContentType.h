#pragma once

#include <cstddef>
#include <string>

// The usual file name extension of data that starts with these bytes, as
// libmagic's signatures tell it ("jpg" for a JPEG picture); empty when it
// cannot tell. A few kilobytes from the start of a file are enough.
std::string GuessExtension(const void* AData, std::size_t ASize);
