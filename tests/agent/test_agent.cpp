int placeholder_agent;
