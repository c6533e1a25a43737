#pragma once

#include <atomic>

namespace torvanix {

// Every deliberate pause of the program (the enumeration settle time, the gaps a device needs
// between writes) goes through one pacer, so tests and the command-line tool can run the same
// code without waiting, and golden tests can record where the pauses fall.
class Pacer {
public:
    virtual ~Pacer() = default;
    virtual void pause(int milliseconds) = 0;
};

// Sleeps for real unless pauses were switched off (TORVANIX_NO_PAUSE=1 or --no-pause).
class SleepingPacer : public Pacer {
public:
    void pause(int milliseconds) override;
};

// The process-wide pacer. Starts as a SleepingPacer; setPacer(nullptr) restores it.
Pacer &pacer();
void setPacer(Pacer *p);

// Switches real sleeping off and on. Reads TORVANIX_NO_PAUSE once at first use.
void setPausesEnabled(bool enabled);
bool pausesEnabled();

} // namespace torvanix
