#include "net.h"

G_DEFINE_QUARK (HTTP, kiv_http_error)
