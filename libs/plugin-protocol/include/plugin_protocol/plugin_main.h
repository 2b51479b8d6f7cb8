// The one entry of every plug-in executable.
//
// Without argument 1 the process writes its manifest beside its executable
// and exits 0 or 1. With argument 1 it connects to the host's abstract
// socket of that name, asks to be killed when its parent dies, creates the
// viewer through `make_viewer`, and serves requests until the host closes the
// connection (returns 0). A failed connection or request loop stops the
// process with status 101 and a message on standard error whose first line
// names `where`, the call site of plugin_main.
#pragma once

#include <functional>
#include <memory>
#include <source_location>
#include <string_view>

#include "plugin_protocol/viewer.h"

namespace brindle {

struct PluginIdentity {
  std::string_view manifest_template;  // contains "@VANTO_PKG_VERSION@"
  std::string_view version;            // e.g. "1.0.1"
  std::string_view plugin_id;          // the manifest id, sent in hello
};

int plugin_main(int argc, char** argv, const PluginIdentity& identity,
                const std::function<std::unique_ptr<Viewer>()>& make_viewer,
                std::source_location where = std::source_location::current());

}  // namespace brindle
