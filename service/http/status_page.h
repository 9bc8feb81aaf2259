#pragma once

#include <cstddef>

// The status page, service/http/status_page.html, built into the program:
// one HTML document with its styles and script inline, so it needs no
// network access and no other file.
extern const char kStatusPage[];
extern const size_t kStatusPageSize;
