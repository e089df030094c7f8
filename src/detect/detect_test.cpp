#include "detect/detect.h"
