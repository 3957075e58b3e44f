# simulation_manager, simulation_helper, states_variables.
