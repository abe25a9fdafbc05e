// Two pieces of packing work that share nothing they write, run at once.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

namespace packer {

// Runs aside on a thread of its own and here on the calling one, and returns
// once both are done; an exception from either is thrown on here. Where no
// thread is to be had, they run one after the other.
template <class first_work, class second_work>
void side_by_side(first_work aside, second_work here) {
    std::exception_ptr failure;
    auto guarded = [&] {
        try {
            aside();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::thread thread;
    try {
        thread = std::thread(guarded);
    } catch (const std::system_error &) {
        guarded();
    }
    try {
        here();
    } catch (...) {
        if (thread.joinable()) thread.join();
        throw;
    }
    if (thread.joinable()) thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace packer
