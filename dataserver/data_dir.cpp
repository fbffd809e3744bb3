#include "dataserver/data_dir.h"

#include "platform/error_text.h"
#include "platform/paths.h"

namespace dataserver {

bool checkDataDir(std::string_view name, const std::string& dataDir, std::string* err) {
  const int error = platform::folderReadError(dataDir);
  if (error == 0) return true;
  *err = std::string(name) + " '" + dataDir + "' cannot be read: " + platform::errnoText(error);
  return false;
}

}  // namespace dataserver
