// The base class's Start does nothing: a node whose Start is that one is no
// source, and the runner says so instead of running nothing in silence.
#pragma once

class TarnBase;

// Forgets the last base Start seen on this thread.
void clearBaseStart();
// Whether Start was last called on this thread on `node` without a Start of its own.
bool startWasBase(const TarnBase* node);
