#include "oracle/globals.h"

oracle::occi::Environment* env = nullptr;
oracle::occi::Connection* conn = nullptr;
