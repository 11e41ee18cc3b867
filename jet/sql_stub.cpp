// Placeholder until the SQL module lands.
#include "jet/sql.h"
