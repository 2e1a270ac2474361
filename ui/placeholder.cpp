// The window and console front ends arrive with the update run.
namespace toval {}
