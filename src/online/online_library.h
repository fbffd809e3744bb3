// The program's binding to the online-access library: the nine operations
// and the notification records, as the library's public header declares
// them. The program reaches the library through this header alone, as it
// reaches the vendor's DLL.
#pragma once

#include "zuqonl.h"
