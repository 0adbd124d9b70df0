// How the samples along a pixel make its colour, shared by both volume passes.
#pragma once

// Blended front to back through the transfer function, or the transfer
// function at the largest or smallest density along it.
enum class VolumeMode { Composite, Maximum, Minimum };
