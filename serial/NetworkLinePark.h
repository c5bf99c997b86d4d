// Keeps the connection of a network line that its port closed for a moment, so
// that the reopen right behind the close (a rate switch, the return to the
// resting rate after a transfer) finds it: a reconnect would lose bytes still in
// flight and let the server reset its line. A line nobody takes back within
// kNetworkLineParkTime is closed by a small thread of its own.
#pragma once

#include <chrono>
#include <memory>
#include <string>

class CNetworkLine;

constexpr std::chrono::milliseconds kNetworkLineParkTime{1000};

// Keeps `line` for a reopen of the same URL.
void ParkNetworkLine(std::shared_ptr<CNetworkLine> line);
// The kept line of that URL, or nullptr.
std::shared_ptr<CNetworkLine> TakeParkedNetworkLine(const std::string& url);
// Closes every kept line now (tests, shutdown).
void CloseParkedNetworkLines();
