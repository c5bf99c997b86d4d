// The simulated receiver (placeholder until it is built).
#pragma once
