#include "platform/linux/linux_host.h"
