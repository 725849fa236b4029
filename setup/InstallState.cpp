#include "InstallState.h"

InstallState installState;
