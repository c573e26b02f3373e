#include "sim/sim_world.h"
