// The application object arrives with the update run.
namespace toval {}
