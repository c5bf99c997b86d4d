#include "receiver/SimulatedReceiver.h"
