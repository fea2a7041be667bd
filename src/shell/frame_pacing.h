#pragma once

// Keeps the frame loop to one frame per display refresh where the driver ignores the swap
// interval (vertical sync forced off, virtual and remote displays) and so lets SwapBuffers return
// at once. Where the swap interval works, SwapBuffers already waits for the display and nothing
// here waits at all.
//
// The two cases are told apart from the time between presented frames: the pacing engages once
// frames keep coming well inside the refresh period, and lets go once they stop doing so (the
// swap has begun to wait, or the frames have grown too slow to need a limit).

// Call once the frame has been presented.
void NoteFramePresented();

// Call before drawing a frame. Returns true when the frame is due. Otherwise it has slept until
// the frame became due or a message arrived, whichever came first, and returns false: handle the
// messages and ask again.
bool WaitUntilFrameDue();

// Reads the display's refresh rate again (the display mode changed).
void ReadDisplayRefreshRate();

// Releases the timer and the timer resolution the pacing may have taken; it starts afresh.
void StopFramePacing();
