// The folder a data server serves its table files from.
#pragma once

#include <string>
#include <string_view>

namespace dataserver {

// Whether the table files of `dataDir` can be served: it is a folder whose
// entries can be listed. Otherwise false, with *err the finished message
// "<name> '<dataDir>' cannot be read: <reason>", where `name` is what the
// server's user calls that folder (the INI key "data_dir", say). Checked
// once, before serving, so that a wrong folder is named at the start rather
// than as an unknown table on every subscription. Any thread.
bool checkDataDir(std::string_view name, const std::string& dataDir, std::string* err);

}  // namespace dataserver
