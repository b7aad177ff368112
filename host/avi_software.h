// The writer an AVI file names in its INFO list ('ISFT'), which tells
// which way up its PNG frames are stored.
#pragma once

#include <string>

// The 'ISFT' text of `path`'s top-level LIST INFO, or "" when there is none
// or the file cannot be read.
std::string AviSoftware(const std::string& path);

// Whether `software` is FFmpeg's libavformat ("Lavf59.27.100"), which
// stores the picture's top row first.
bool WrittenByFfmpeg(const std::string& software);
