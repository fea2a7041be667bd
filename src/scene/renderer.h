#pragma once

// Sets the fixed OpenGL state, loads the extensions, asks for one buffer swap per display refresh
// and builds the point field. Needs the rendering context current.
void InitGL();

// Viewport and perspective projection for a client area; leaves the model-view matrix selected.
void ResizeScene(int width, int height);

// Advances every point by one step and draws the frame; presenting it is the caller's job.
void DrawScene();
