HostTestOrder.push('vault');
