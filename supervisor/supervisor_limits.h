// The supervisor's waits and time limits. The defaults are those of the
// shipped program; tests and benchmarks shorten them.
#pragma once

struct SupervisorLimits
{
    // How long the Java process may take to come up at all.
    int processStartTimeoutMs = 30000;
    // How long the start-up wait lasts at most: 20000 passes of 5 ms, counted
    // on the clock. It ends at once when the start-up marker comes.
    long long startupWaitMs = 20000LL * 5;
    // The longest a wait blocks for events before it looks again at what it
    // waits for (and at the clock).
    int passMs = 5;
    // Pause after the quit command, before the shut-down wait, meant for the
    // Java side; events are handled meanwhile.
    int quitPauseMs = 15;
    // How long the Java application may take to shut down after the quit
    // command. 20 s: long enough for an orderly close of connections and
    // stores, and no longer than the time the system grants a service at its
    // own shut-down, so that the Java process is ended by us and reported,
    // not cut off unseen; it also stays within the 15 to 30 s that service
    // wrappers commonly allow before they kill.
    int stopTimeoutMs = 20000;
    // How long, on a restart, the previous Java process may take to end after
    // it reported its shut-down. It has nothing left to do but exit.
    int previousExitTimeoutMs = 10000;
    // How long to wait for a killed Java process to be reaped.
    int killWaitMs = 5000;
    // Standard error is relayed in whole lines: how long the beginning of a
    // line may wait for its end (the JVM writes its own warnings in pieces),
    // and how much of one line is held at most.
    int partialLineWaitMs = 50;
    int longestHeldLine = 64 * 1024;
};
