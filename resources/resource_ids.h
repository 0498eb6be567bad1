// Resource numbers shared by the resource script and the program.
#pragma once

#define IDI_APP 101
#define IDR_SPLASH_PNG 102
