#include "rip/rip_status.h"

SharedInt ripFinished{1};
