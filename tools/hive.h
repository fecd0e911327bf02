// What the tool reads from the registry itself, through its own copy of the
// registry layer: whether the hive can be used at all, the container names
// (the token's own list stops at a name of 50 characters or more), and a
// pair's export flag (the library does not read it).
#ifndef MARLINOK_TOOLS_HIVE_H
#define MARLINOK_TOOLS_HIVE_H

#include <string>
#include <vector>

#include "platform/registry.h"

namespace marlinok::tool {

// Checks the registry before a command uses it. An empty MARLINOK_REGISTRY is
// a usage error (it would mean the default hive); a hive that cannot be used
// is one line on stderr saying where it is and why. Returns kExitOk when the
// registry can be used, else the exit status.
int RequireRegistry();

// The subkey names of an open key, in the registry's order.
platform::RegStatus SubkeyNames(const platform::RegistryKey& key, std::vector<std::string>& names);

// Every subkey of the container root, in the registry's order; none when the
// root does not exist yet.
bool ContainerNames(std::vector<std::string>* names, std::string* error);

// Whether the pair whose private record `privateRef` names may leave the
// token: its SigExport or ExExport flag, set at generation (--exportable) and
// for every imported pair. False with a reason when it may not.
bool PairExportable(const std::string& privateRef, bool exchange, std::string* reason);

}  // namespace marlinok::tool

#endif
