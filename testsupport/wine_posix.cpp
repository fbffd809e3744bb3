#include "testsupport/wine.h"

namespace testsupport {

bool runningUnderWine() { return false; }

}  // namespace testsupport
