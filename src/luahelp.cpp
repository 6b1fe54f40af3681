#include "luahelp.h"

// TODO(helper): the accessors, the path walker and the value stream.
