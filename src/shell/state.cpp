#include "shell/state.h"

SceneState sceneState;
