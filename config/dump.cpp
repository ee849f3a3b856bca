#include "config-private.h"
