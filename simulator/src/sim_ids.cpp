// Identifiers of the simulator's test interface, for the component and its clients.
#include "scanmontura_sim.h"

extern "C" const IID IID_ISimControl = {
    0x5C1A0E21, 0x7E4B, 0x4C55, {0x9B, 0x0D, 0x3D, 0x6A, 0x91, 0xC2, 0xE0, 0x01}};
