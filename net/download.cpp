#include "net.h"
