// Memory and Array: RAM access for programs, and the heap. The free list is
// kept outside the RAM: the size word in front of each taken block is all the
// allocator writes, so that the same program always leaves the same memory.
#include "vm/machine.h"

#include <algorithm>

namespace vm_runner::library
{
    int16_t Memory_init(machine &m, const int16_t *)
    {
        m.free_blocks.assign(1, {heap_base, heap_end - heap_base});
        std::fill(m.taken_size.begin(), m.taken_size.end(), 0);
        m.taken_words = 0;
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
            if (size >= n + 3)
            {
                taken = n + 1;
                *it = {address + taken, size - taken};
            }
            else
                m.free_blocks.erase(it);
            m.taken_size[static_cast<size_t>(address)] = taken;
            m.taken_words += taken;
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
        int address = a[0] - 1;
        if (address < heap_base || address >= heap_end || m.taken_size[static_cast<size_t>(address)] == 0)
            return 0;
        int size = m.taken_size[static_cast<size_t>(address)];
        m.taken_size[static_cast<size_t>(address)] = 0;
        m.taken_words -= size;
        if (m.heap_checked())
            m.note_free(address + 1);
        auto next = std::lower_bound(m.free_blocks.begin(), m.free_blocks.end(), std::make_pair(address, 0));
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
        m.free_blocks.insert(next, {address, size});
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
