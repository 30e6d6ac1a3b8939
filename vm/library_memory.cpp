// Memory and Array: RAM access for programs, and the heap. The free list is
// kept outside the RAM: the size word in front of each taken block is all the
// allocator writes, so that the same program always leaves the same memory.
#include "vm/machine.h"

namespace vm_runner::library
{
    int16_t Memory_init(machine &m, const int16_t *)
    {
        m.free_blocks.clear();
        m.taken_blocks.clear();
        m.free_blocks[heap_base] = heap_end - heap_base;
        return 0;
    }

    int16_t Memory_peek(machine &m, const int16_t *a)
    {
        return m.read(a[0]);
    }

    int16_t Memory_poke(machine &m, const int16_t *a)
    {
        m.write(a[0], a[1]);
        return 0;
    }

    int16_t Memory_alloc(machine &m, const int16_t *a)
    {
        const int n = a[0];
        if (n <= 0)
        {
            m.error(5);
            return 0;
        }
        // First fit in address order; a block with room for a free block of
        // at least two words after the taken part is split.
        for (auto it = m.free_blocks.begin(); it != m.free_blocks.end(); ++it)
        {
            const int address = it->first, size = it->second;
            if (size < n + 1)
                continue;
            int taken = size;
            m.free_blocks.erase(it);
            if (size >= n + 3)
            {
                taken = n + 1;
                m.free_blocks[address + taken] = size - taken;
            }
            m.taken_blocks[address] = taken;
            m.ram()[address] = static_cast<int16_t>(taken);
            if (m.heap_checked())
                m.note_alloc(address + 1, n);
            return static_cast<int16_t>(address + 1);
        }
        m.error(6);
        return 0;
    }

    int16_t Memory_deAlloc(machine &m, const int16_t *a)
    {
        // The size is the one the allocator kept, so a program that wrote
        // over a size word cannot free more than it was given.
        auto taken = m.taken_blocks.find(a[0] - 1);
        if (taken == m.taken_blocks.end())
            return 0;
        int address = taken->first, size = taken->second;
        m.taken_blocks.erase(taken);
        if (m.heap_checked())
            m.note_free(address + 1);
        auto next = m.free_blocks.lower_bound(address);
        if (next != m.free_blocks.end() && next->first == address + size)
        {
            size += next->second;
            next = m.free_blocks.erase(next);
        }
        if (next != m.free_blocks.begin())
        {
            auto previous = std::prev(next);
            if (previous->first + previous->second == address)
            {
                previous->second += size;
                return 0;
            }
        }
        m.free_blocks[address] = size;
        return 0;
    }

    int16_t Array_new(machine &m, const int16_t *a)
    {
        if (a[0] <= 0)
        {
            m.error(2);
            return 0;
        }
        return m.call(lib_Memory_alloc, {a[0]});
    }

    int16_t Array_dispose(machine &m, const int16_t *a)
    {
        m.call(lib_Memory_deAlloc, {a[0]});
        return 0;
    }
}
