// One process-wide switch that ends every network wait at once: closing the
// notifier must not sit out a hanging server's time-outs. Every wait of a
// transport polls the descriptor below beside its socket.
#pragma once

// Ends the waits running now and every later one until the reset. Safe from
// any thread, and quick: the GUI calls it from its close box.
void cancel_network_waits();

// Waits work again: a new application starts with none cancelled.
void reset_network_cancel();

// True from the cancel until the reset.
bool network_waits_cancelled();

// A descriptor that polls readable from the cancel until the reset.
int network_cancel_fd();
