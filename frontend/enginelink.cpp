// Binds the dialog's engine table to the engine library. Linking this file is what makes the
// program need the engine's entry points when it is loaded.
#include "engineapi.h"

const EngineApi& LinkedEngine() {
    // The session sender and receiver are not exported by the engine yet: their slots stay
    // empty and Start as sender or receiver does nothing until they are.
    static const EngineApi engine = {PassSaveResult, PassDynaResult, GetHWND, GetMsgBuffer,
                                     GetRetCode,     SQL_Test,       nullptr, nullptr};
    return engine;
}
