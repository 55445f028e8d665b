// Resource identifiers shared by res/tarnwell.rc and the programs.
#pragma once

#define IDI_TARNWELL 1
