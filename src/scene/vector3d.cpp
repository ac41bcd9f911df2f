#include "scene/vector3d.h"

#include <cmath>

