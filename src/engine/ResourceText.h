// Texts of the language bundle with their arguments filled in.
#pragma once
#include <initializer_list>
#include <string>

#include "platform/Resource.h"

// Loads string id (cut to bufferSize - 1 characters, as the caller's buffer
// would) and replaces its "%s" placeholders in order with args; "%%" gives
// "%". Any other "%" sequence is copied as it stands and surplus
// placeholders become empty, so a translated text can never read arguments
// that were not passed. The result is cut to bufferSize - 1 characters too.
std::string LoadFormattedString(plat::ResourceHandle module, unsigned id, int bufferSize,
                                std::initializer_list<const char*> args);
