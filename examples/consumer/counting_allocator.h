#pragma once

// The tool's allocation functions (counting_allocator.cpp) replace the
// global operator new and delete for the whole program, the library included.

// The count of blocks allocated and not yet released.
long countLiveBlocks();

// The nth allocation from now (1: the next one) throws std::bad_alloc, once;
// 0 refuses none.
void refuseAllocation(long nth);

// True while the refusal asked for has not yet come.
bool isRefusalPending();
