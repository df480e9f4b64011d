// The keyboard of the waits: the console's own, never standard input
// (TerminalPosix.cpp, TerminalWin32.cpp). Special keys arrive as the prefix
// code 0 followed by a second code on the next read; a Windows console gives
// its grey cursor and editing keys the prefix 224 instead.
#ifndef ZARVO_PLATFORM_KEYBOARD_H
#define ZARVO_PLATFORM_KEYBOARD_H

// Settles whether anybody can type on the console keyboard, before the
// prompt of a key wait is shown: where asking takes a moment, keys typed
// in answer to the prompt then meet a wait that is ready for them. Nothing
// is taken or changed.
void PlatformKeyboardPrepare();

// Takes the console keyboard for reading keys without echo. False when the
// process has no console keyboard that anybody can type on, or when it runs
// in the background; then no key is ever waiting. With bMayStop a
// background job first stops, as a reader of the terminal does, until it is
// brought to the foreground.
bool PlatformKeyboardOpen(bool bMayStop);

// Stops the terminal echoing what is typed, and changes nothing else: keys
// stay unread for whatever reads the terminal next. False when the terminal
// is not this run's alone to silence (no terminal, a background job, or
// standard input or output elsewhere).
bool PlatformEchoOff();

// Gives the console back exactly as it was before PlatformKeyboardOpen or
// PlatformEchoOff.
void PlatformKeyboardClose();

// Whether a key is waiting; never blocks.
bool PlatformKeyWaiting();

// The next key code; call only when a key is waiting.
int PlatformReadKey();

// Sleeps until a key is waiting or nMillis have passed; true for a key.
// Without a console keyboard it simply sleeps.
bool PlatformWaitForKey(int nMillis);

#endif
