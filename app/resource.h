#pragma once

// Resource ids of the program's own file, shared with its resource script.
#define IDI_FENWAREL 1
