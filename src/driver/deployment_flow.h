// The body of a deployment run, from the language check to the exit code.
#pragma once

// Runs the deployment and returns the program's exit code.
int RunDeploymentFlow();
