#pragma once

#include <string>

#include "service/service_options.h"

// kovrad's configuration file: INI, read with libinih. Sections [kovrad],
// [nut], [http] and any number of [user NAME]; see kovrad(5). Every value is
// checked, and an unknown section or key is an error, so the service never
// starts with a setting it did not understand.

// Applies the settings of text, read from the file called name, to *options.
// On a fault returns false with "NAME:LINE: reason" in *error (the first
// faulty line); *options may then be partly changed.
bool ParseConfigText(const std::string& text, const std::string& name,
                     ServiceOptions* options, std::string* error);

// Reads the file at path and applies it as ParseConfigText does. A missing
// file is fine (nothing changes) unless must_exist.
bool ReadConfigFile(const std::string& path, bool must_exist,
                    ServiceOptions* options, std::string* error);

// The settings kovrad starts with: built-in defaults, then the configuration
// file (--config or the default path), then the rest of the command line.
bool LoadServiceSettings(int argc, const char* const* argv,
                         ServiceOptions* options, std::string* error);

// The settings in effect, in the file's format, passwords left out; what
// kovrad --check-config prints.
std::string FormatSettings(const ServiceOptions& options);
